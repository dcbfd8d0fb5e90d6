// What the platform under test offers, for the checks whose expected result
// differs between POSIX and Windows. Tests read these constants instead of
// testing _WIN32 themselves, so that both branches compile everywhere and
// only one runs. Checks that need one platform's own calls live in a helper
// of their own beside this one, or in a _posix test file that only POSIX
// builds compile.
#pragma once

namespace quarn::test {

#ifdef _WIN32
inline constexpr bool kWindows = true;
#else
inline constexpr bool kWindows = false;
#endif

// Owner, group and other permission bits: Windows files have none.
inline constexpr bool kHasPermissionBits = !kWindows;

// Files that have no name until they are linked in (Linux's O_TMPFILE):
// Windows has none, so a file being written shows under a stand-in name.
inline constexpr bool kHasUnnamedFiles = !kWindows;

// Symbolic links that any user can make: Windows asks for a privilege,
// which wine does not give.
inline constexpr bool kCanMakeSymbolicLinks = !kWindows;

// Names whose file another handle holds open can be replaced: Windows
// refuses while the handle does not share deletion, as the scan's does not.
inline constexpr bool kReplacesNamesOfOpenFiles = !kWindows;

}  // namespace quarn::test
