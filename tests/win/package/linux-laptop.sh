# Sourced by run-package-test.sh in its mount namespace: the package on a Linux laptop. A tmpfs
# /sys holds a PL2303 on ttyUSB0, a CH340 on ttyUSB1 and an FTDI adapter on ttyUSB2 (with the real
# /sys/devices/system, kernel and fs), a tmpfs /dev the few real nodes Wine needs; Wine's mount
# manager links the COM ports as on a laptop. The prefix loses its drive Z:, as hardened prefixes
# have none, so the package lies under drive_c as the README says. A phase is a test of the driver.
# shellcheck shell=bash

fake_usb_serial() {  # SYSFS BUS-PORT TTY VENDOR PRODUCT DRIVER
    local sys=$1 usb=devices/pci0000:00/0000:00:14.0/usb1/$2
    local port=$usb/$2:1.0/$3
    mkdir -p "$sys/$port/tty/$3" "$sys/class/tty" "$sys/bus/usb/devices" \
        "$sys/bus/usb-serial/drivers/$6"
    printf '%s\n' "$4" >"$sys/$usb/idVendor" && printf '%s\n' "$5" >"$sys/$usb/idProduct"
    ln -s ../.. "$sys/$port/tty/$3/device"
    ln -s "../../../../../../../bus/usb-serial/drivers/$6" "$sys/$port/driver"
    ln -s "../../$port/tty/$3" "$sys/class/tty/$3"
    ln -s "../../../$usb" "$sys/bus/usb/devices/$2"
}

phase() {  # NAME [COMMAND PREFIX...]: the driver's test for the phase, TAKTOR_LINUX_PHASE=NAME
    local name=$1 test=ReportsWhatTheMachineLacks
    shift
    [ "$name" != write ] || test=WritesThroughTheCableLinuxKnows
    wineserver -k 2>/dev/null
    wineserver -w
    echo "package: phase $name"
    TAKTOR_LINUX_PHASE=$name "$@" "$TAKTOR_WINE" 'C:\package_win_test.exe' \
        --gtest_filter="LinuxLaptop.$test"
}

bind_node() {  # NODE REAL-NODE: an entry of the tmpfs /dev bound to a real node
    touch "/dev/$1" && mount --bind "$real/dev/$2" "/dev/$1"
}

laptop_phases() {
    local rc=0 real
    real=$(dirname "$package")/linux-laptop
    rm -rf "$real" && mkdir -p "$real/sys" "$real/dev" "$real/fake"
    fake_usb_serial "$real/fake" 1-1 ttyUSB0 067b 2303 pl2303
    fake_usb_serial "$real/fake" 1-2 ttyUSB1 1a86 7523 ch341-uart
    fake_usb_serial "$real/fake" 1-3 ttyUSB2 0403 6001 ftdi_sio # no node: plugged in late
    mount --rbind /sys "$real/sys" && mount --rbind /dev "$real/dev" &&
        mount -t tmpfs -o mode=755 tmpfs /sys && cp -a "$real/fake/." /sys/ || return 1
    for dir in devices/system kernel fs; do
        mkdir -p "/sys/$dir" && mount --rbind "$real/sys/$dir" "/sys/$dir" || return 1
    done
    # nodev: a node made here refuses to open, root included, as one the user may not open.
    mount -t tmpfs -o nodev,mode=755 tmpfs /dev || return 1
    for node in null zero full random urandom tty; do
        bind_node $node $node || return 1
    done
    for dir in pts shm; do
        mkdir "/dev/$dir" && mount --rbind "$real/dev/$dir" "/dev/$dir" || return 1
    done
    ln -s pts/ptmx /dev/ptmx && ln -s /proc/self/fd /dev/fd && bind_node ttyUSB0 null &&
        rm "$WINEPREFIX/dosdevices/z:" && python3 -m zipfile -e "$package" "$WINEPREFIX/drive_c" &&
        cp "$driver" "$WINEPREFIX/drive_c/package_win_test.exe" || return 1
    export TAKTOR_PACKAGE_DIR='C:\Taktor'
    export -f phase

    # The CH340's node leads on to the simulator's line, whose files the driver reads by Wine's
    # paths to the Unix side.
    ln -s "$WINEPREFIX/dosdevices/com5" /dev/ttyUSB1
    # shellcheck disable=SC2016
    "$here/../with-simulator.sh" COM5 -- bash -c \
        'TAKTOR_SIM_CONTROL="\\\\?\\unix${TAKTOR_SIM_CONTROL//\//\\}" \
         TAKTOR_SIM_LOG="\\\\?\\unix${TAKTOR_SIM_LOG//\//\\}" phase write' || rc=1
    # The CH340's node refuses to open; then the same for a user in dialout: a confined Wine.
    rm /dev/ttyUSB1 && mknod /dev/ttyUSB1 c 188 1 || return 1
    phase refusing || rc=1
    phase confined setpriv --groups "$(getent group dialout | cut -d: -f3)" || rc=1
    # A sandbox: sysfs has both cables, /dev no node for them.
    umount /dev/ttyUSB0 && rm /dev/ttyUSB0 /dev/ttyUSB1 || return 1
    phase sandbox env FLATPAK_ID=org.winehq.Wine || rc=1
    # Both nodes open again, with the mount manager turned off; its links stay from before.
    bind_node ttyUSB0 null && bind_node ttyUSB1 null || return 1
    phase no-mount-manager env WINEDLLOVERRIDES="$WINEDLLOVERRIDES;mountmgr.sys=d" || rc=1
    # The program's folder refuses new files, as Controlled Folder Access does: root ignores
    # file permissions, not the immutable attribute (ext4).
    if chattr +i "$WINEPREFIX/drive_c/Taktor"; then
        phase refusing-folder || rc=1
        chattr -i "$WINEPREFIX/drive_c/Taktor"
    else
        echo "!!!!! NOT RUN: the refusing folder of the package test. Why: no chattr +i here"
    fi
    return $rc
}
