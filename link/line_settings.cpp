#include "link/serial_device.h"
