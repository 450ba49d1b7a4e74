// The companion components the library reaches by late binding, and what it calls on them.
//
// Host script object (handed to clsADO.Constructor as Tabulon_SQLPlus): only its report-break collection
//   Breaks is used: Breaks.ResetALL(); Breaks.CheckBreaks(dynaset); Breaks.Count; Breaks(i) (1-based) with
//   ReportElement (read), Column (written, 0-based position), Duplicates and PostBreakEvent (read, Boolean).
//
// Error component, ProgID "korError.clsError":
//   Constructor(Title, Major, Minor, Revision)   the library's name and version, 16-bit integers
//   ErrorMessage(Module, Routine, VBError, ErrorLine, [DebugMessage])
//   Alert(Message, [Title]); LogEvent(Message); DisplayAlerts (read, write)
//
// File components: "korFileSystem.clsFile": Constructor(FileName), Contents (write: writes the text),
//   FullName (read). "korFileSystem.clsFileSystem": Constructor(), SaveFile(hWnd, Flags, Filter,
//   InitialFolder, Title) -> a clsFile, or Nothing when no dialog is available or the user cancels.
//
// Default implementations of the error and file components are registered under these ProgIDs
// (src/companions/); a host may register its own instead.
#pragma once

namespace korado::companions {
inline constexpr const char* kErrorComponent = "korError.clsError";
inline constexpr const char* kFile = "korFileSystem.clsFile";
inline constexpr const char* kFileSystem = "korFileSystem.clsFileSystem";
}  // namespace korado::companions
