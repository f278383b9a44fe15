#pragma once
// Proof that a folder is the game's folder: one known game file, named in the patch manifest by a
// file record of three keys sharing a suffix (empty for the primary record, "2" for the alternate):
// RelativePath<s> (path below the folder, "\" or "/"), ExpectedHash<s> (SHA-256 as 64 hexadecimal
// digits, either case) and ExpectedSize<s> (decimal bytes). Each value is fetched with
// ManifestGetLocalized, so a language variant such as ExpectedHash2.ko wins over the bare key.
#include <cstdint>
#include <string>
#include <vector>

// True when the record's file exists below the folder (at its path, or found by name) with the
// expected size and digest.
bool VerifyFileRecord(const std::wstring& gameFolder, const std::string& suffix);

enum class RecordCheck { Match, KeyMissing, FileNotFound, CannotOpen, SizeDiffers, DigestDiffers };

// What one record asks for and what the folder holds, for the install log. Sizes are -1 and texts
// empty where the step was not reached.
struct RecordFindings {
    std::wstring relativePath;
    std::wstring expectedHash;
    int64_t expectedSize = -1;
    std::wstring foundPath;
    int64_t foundSize = -1;
    std::wstring foundDigest;
};

// The steps of CheckFileRecord, keeping what each step saw.
RecordCheck InspectFileRecord(const std::wstring& gameFolder, const std::string& suffix, RecordFindings& findings);

// The same steps as VerifyFileRecord, telling why a record does not match. `foundPath` (may be
// null) receives the located file when there is one. The size is compared before anything is
// hashed; a digest that cannot be computed counts as CannotOpen.
RecordCheck CheckFileRecord(const std::wstring& gameFolder, const std::string& suffix, std::wstring* foundPath);

// The folder the payload goes into. When the game file was found by the search rather than at
// folder + relative path, and the found path ends with the relative path (segment by segment, "."
// segments dropped, A-Z case ignored as the search ignores it), it is the folder holding that
// relative path. A relative path longer than what lies below the chosen folder would put that
// folder above the one the user chose: the chosen folder is kept then, as in every other case.
std::wstring ExtractionFolderFor(const std::wstring& chosenFolder, const std::wstring& foundPath,
                                 const std::wstring& relativePath);

// One record as the verification checked it.
struct CheckedRecord {
    std::string suffix;
    RecordCheck check = RecordCheck::KeyMissing;
    RecordFindings findings;
};

// The installer's verification: the primary record, then the alternate one when the primary does
// not match. True with `extractionFolder` set (ExtractionFolderFor of the matching record) when
// either matches; false with it untouched otherwise. Each record checked is written to the install
// log when one is open, and to `checked` (may be null; emptied first) in the order checked.
bool VerifyGameFolder(const std::wstring& chosenFolder, std::wstring& extractionFolder,
                      std::vector<CheckedRecord>* checked = nullptr);

// The game file at folder + relative path when that is a file; otherwise the first file found below
// the folder with the relative path's last name (letter case of A-Z ignored); empty when none.
std::wstring LocateGameFile(const std::wstring& gameFolder, const std::wstring& relativePath);

// The text after the last "\" or "/", or the whole path when it has neither.
std::wstring FileNamePart(const std::wstring& path);

// Depth-first search of the tree below `directory`, each directory's entries in the order the file
// system delivers them, a subdirectory searched as soon as it is met. Directories are never a
// match, and directory links (symbolic links, junctions, other reparse points) are not entered, so
// a link back up the tree cannot make the search endless. Works with its own stack, not recursion,
// whatever the depth. True with `foundPath` set on a match; false with it untouched otherwise.
bool FindFileByName(const std::wstring& directory, const std::wstring& name, std::wstring& foundPath);

// SHA-256 of the file's content as 64 upper-case hexadecimal digits, read in 65536-byte blocks
// (memory does not depend on the size). The file is opened for shared reading only, so a file
// another program holds open for writing is refused. False, with `digest` untouched, when the file
// cannot be opened or read to its end, or the digest fails.
bool ComputeFileDigest(const std::wstring& path, std::wstring& digest);
