// Where the programs look for the DLLs they load: not in their own folder, nor in the current one.
#pragma once

namespace taktor {

// Takes the program's folder and the current folder out of the DLL search, so that a DLL
// dropped beside the program (into Downloads, say) is never loaded in place of Windows' own.
// Call it first, before anything can load a DLL.
void RestrictDllSearch();

}  // namespace taktor
