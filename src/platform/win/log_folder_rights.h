#pragma once
// The access list of the shared log folder, in the system's SDDL notation, built from
// well-known SIDs only (the names of groups differ between languages of Windows):
//   everyone (WD): list, traverse and read the folder, add files to it;
//   everyone, inherited by files only: read and append (no overwriting, no deleting);
//   CREATOR OWNER (CO), inherited only: full control of what each user creates;
//   SYSTEM (SY) and Administrators (BA): full control.
// Nobody holds DELETE or "delete child" on another's file: the sticky folder of Linux.
// "P" keeps the parent's entries out, so applying it twice gives the same list.
namespace velquora::platform::win {

inline constexpr wchar_t kLogFolderRights[] =
    L"D:P"
    L"(A;;0x1200ab;;;WD)"
    L"(A;OIIO;0x12008d;;;WD)"
    L"(A;OICIIO;GA;;;CO)"
    L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

}  // namespace velquora::platform::win
