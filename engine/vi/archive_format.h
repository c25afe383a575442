// The stored layout of VI libraries, shared by the engine's library code and
// the tools that write libraries for tests and applications.
//
// A VI library is a resource file of type QXAR and creator QNLX (extension
// ".qlb").  Its directory is the resource ADir 0; each member file is stored
// whole and compressed as a CPRF resource under the member's entry id and
// named by the member's name, with a few of the member's own resources copied
// beside it.  Everything stored is big-endian; four-character codes are
// stored as their characters in reading order and copied as bytes.
#pragma once
#include "mgsource/byteorder.h"
#include "mgsource/extcode.h"
#include "mgsource/fourcc.h"

namespace archfmt {

// The library file.
constexpr uInt32 kFileType = FourCC("QXAR");
constexpr uInt32 kCreator = FourCC("QNLX");
constexpr char kExtension[] = ".qlb";

// Member file types.
constexpr uInt32 kTypeVI = FourCC("QXIN");
constexpr uInt32 kTypeControl = FourCC("QXCC");
constexpr uInt32 kTypeSubroutine = FourCC("QXSB");
constexpr uInt32 kTypeRunMenu = FourCC("RMNU");
// A run-time menu file is no resource file; it starts with these characters.
constexpr char kRunMenuSignature[] = "Run-Time Menu";

// Resource types of a library.
constexpr uInt32 kRsrcDir = FourCC("ADir");
constexpr uInt32 kRsrcCompressed = FourCC("CPRF");
constexpr uInt32 kRsrcIcon = FourCC("ICON");
constexpr uInt32 kRsrcStrList = FourCC("STR#");
constexpr uInt32 kRsrcString = FourCC("STR ");
constexpr uInt32 kRsrcOldPalette = FourCC("PALM");
constexpr uInt32 kRsrcPalette = FourCC("PLM2");
constexpr uInt32 kRsrcPaletteNames = FourCC("CPST");
// A member's own resources of id 0 that are copied beside it, in copy order.
constexpr uInt32 kCopiedTypes[7] = {
    FourCC("ICON"), FourCC("CPTM"), FourCC("CPCT"), FourCC("STRG"),
    FourCC("HLPP"), FourCC("HLPT"), FourCC("TITL")};
constexpr int32 kCopiedFromId = 0;
// A member's resources that are removed with it, in removal order.
constexpr uInt32 kMemberTypes[9] = {
    FourCC("STR#"), FourCC("ICON"), FourCC("CPTM"),
    FourCC("CPCT"), FourCC("HLPP"), FourCC("HLPT"),
    FourCC("TITL"), FourCC("CPRF"), FourCC("STRG")};

// The directory, ADir 0: a 24-byte header, then the entries back to back.
constexpr int32 kDirId = 0;
constexpr int32 kDirHeaderSize = 24;
enum : int32 { kDirTag = 4, kDirVersion = 8, kDirCount = 20 };
constexpr uChar kDirTagBytes[4] = {'a', 'd', 'i', 'r'};
constexpr uInt32 kDirVersionValue = 2;
// An entry: 32 fixed bytes, then the member's name as a Pascal string.
constexpr int32 kEntryFixedSize = 32;
enum : int32 {
  kEntryId = 0,
  kEntryType = 4,
  kEntryVersion = 8,
  kEntryFlags = 12,
  kEntryModDate = 24,
  kEntryDate2 = 28,
  kEntryName = 32,
};
constexpr uInt32 kFlagTopLevel = 0x10;
// The bytes an entry takes for a name of n characters.
constexpr int32 EntrySize(int32 nameLength) { return (nameLength + 36) & ~3; }
static_assert(EntrySize(3) == 36 && EntrySize(4) == 40, "directory entry sizes");

// CPRF: the size as a u32, a bitmap of one bit per byte (least significant
// bit first; 1 = the byte is not zero), then the non-zero bytes in order.
constexpr int32 kCprfHeaderSize = 4;
constexpr uInt32 BitmapSize(uInt32 size) { return (size + 7) / 8; }
// Files are compressed and expanded in chunks of this many bytes.
constexpr int32 kChunkSize = 51200;

// The version stored for a member: the member's QXIN header's version word,
// else the run-time's own.
constexpr int32 kHeaderVersionOffset = 96;
constexpr uInt32 kRunTimeVersion = 0x05018003;

// Members below this size (configuration key, in bytes) that are extracted
// to be opened at once are expanded in memory.
constexpr char kMaxMemoryKey[] = "maxVISizeForMemoryUncompress";
constexpr int32 kMaxMemoryDefault = 250000;

// Library-wide resources made when a library is created.
constexpr int32 kVIPaletteId = -1, kCtlPaletteId = -2;        // PLM2, CPST and the images
constexpr int32 kOldVIPaletteId = 0, kOldCtlPaletteId = 1;    // PALM
constexpr char kVIPaletteName[] = "paletteMenu";
constexpr char kCtlPaletteName[] = "ctlMenu";
constexpr int32 kVIPaletteImage = 6001, kCtlPaletteImage = 6002;  // of the run-time resource file
constexpr int32 kVIPaletteTitleId = 1, kCtlPaletteTitleId = 2;    // 'STR '
constexpr char kVIPaletteSuffix[] = " VIs";
constexpr char kCtlPaletteSuffix[] = " Ctrls";
constexpr int32 kImageKindIconFamily = 5;

// PLM2: u16 column count, u16 entry count, then the entries.  An entry: u16
// the member's entry id (0: a free slot), u8 flags, u8 kind, i32 marker
// (-1: the entry names a library member), a Pascal string, padded to even.
constexpr int32 kPaletteHeaderSize = 4;
enum : int32 { kPaletteColumns = 0, kPaletteCount = 2 };
enum : int32 { kPEntryId = 0, kPEntryFlags = 2, kPEntryKind = 3, kPEntryMarker = 4, kPEntryText = 8 };
constexpr int32 PaletteEntrySize(int32 textLength) { return (textLength + 10) & ~1; }
constexpr uChar kKindVI = 5, kKindControl = 1;
constexpr int32 kMemberMarker = -1;
constexpr char kVIUseText[] = "InstrUse";
constexpr char kControlUseText[] = "DDOUse";
// Appending grows the columns by one while they are below this.
constexpr int32 kPaletteGrowColumns = 5;
// The old PALM entry: the PLM2 entry without its marker.
enum : int32 { kOldEntryText = 4 };
constexpr int32 OldPaletteEntrySize(int32 textLength) { return (textLength + 6) & ~1; }
// CPST: u32 count, then one Pascal string per PLM2 entry.
constexpr int32 kNamesHeaderSize = 4;

// The error texts of the library tools: STR# 14551 of the run-time resource
// file, entry N for text N.
constexpr int32 kToolTextsId = 14551;
constexpr char kToolTextsName[] = "_QLB tools errors";
enum : int32 {
  kTextNoLibraryName = 1,
  kTextNoSourceName = 2,
  kTextCantExtract = 3,
  kTextNoPath = 4,
  kTextCantOpenLibrary = 5,
  kTextCantRemove = 6,
  kTextCantOpenSource = 7,
  kTextUnknownType = 8,
  kTextPaletteRange = 9,
  kTextCantCreate = 10,
  kTextDuplicate = 11,
  kTextNotFound = 12,
  kTextNoPaletteMenu = 13,
  kTextPaletteOccupied = 14,
  kTextCantRebuildPalette = 15,
  kTextNoVersion = 16,
  kTextCantAdd = 17,
  kTextLibraryExists = 18,
  kTextDirectoryThere = 19,
  kTextCantReleaseImage = 20,
  kTextBadLibraryType = 21,
  kTextDestinationIsDir = 22,
  kTextBadMode = 23,
  kTextNotAbsolute = 24,
  kTextCantOverwrite = 25,
  kTextCantList = 26,
};
constexpr int32 kToolTextCount = 26;
constexpr const char* kToolTexts[kToolTextCount] = {
    "Can't get name from VI library path.",
    "Can't get name from file system path.",
    "Can't extract file from VI library.",
    "Can't allocate new path.",
    "Can't open VI library resource file.",
    "Can't remove file from VI library.",
    "Can't open file system resource file.",
    "Unknown VI Library file type.",
    "Palette position is out of range.",
    "Can't create VI library.",
    "File already exists in VI library.",
    "Can't find file in VI library.",
    "Can't get palette menu resource.",
    "Palette position already occupied.",
    "Can't rebuild palette menu.",
    "Can't get version of file in file system.",
    "Can't add file to VI library.",
    "VI library already exists.",
    "Directory exists where VI library was specified.",
    "Can't release palette menu image.",
    "File type is not valid in a VI library.",
    "File system file specification indicates a directory.",
    "Invalid operation specified when removing a file from a VI library.",
    "Paths to VI library tools must be absolute.",
    "Can't overwrite a VI library.",
    "Error listing contents of VI library.",
};

}  // namespace archfmt
