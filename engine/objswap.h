// Byte-order conversion of panel objects (message 1 of their classes), of
// the panel resources and of saved panel scraps.
//
// The converters work from field tables (offset, width, and whether the
// field is converted in both directions).  In direction 0 (file to memory)
// every field of the table is converted; in direction 1 (memory to file)
// only the fields marked for both directions and the descriptors.  Test
// tooling writes objects wholly in file order from the same tables
// (kSwapAllToFile).  Every field is checked against the object's block or the
// record's size first: anything running past gives 1, nothing is written past
// the end.
#pragma once
#include "engine/stdize.h"
#include "mgsource/fourcc.h"
#include "mgsource/objheap.h"

// Conversion modes: the two directions, and the whole layout to file order.
enum : int32 { kSwapToMemory = 0, kSwapToFile = 1, kSwapAllToFile = 2 };

// Class indices of the object classes that have converters.
enum : int16 {
  kClsList = 7,  // List
  kClsDataObject = 8,  // DataObject
  kClsCosmetic = 9,  // Cosmetic
  kClsLabel = 10,  // Label
  kClsMultiCosmetic = 11,  // MultiCosmetic
  kClsBigMultiCosmetic = 12,  // BigMultiCosmetic
  kClsMultiLabel = 13,  // MultiLabel
  kClsBigMultiLabel = 14,  // BigMultiLabel
  kClsDataController = 17,  // DataController
  kClsFPDataController = 18,  // FrontPanelDataController
  kClsFrontPanel = 76,  // Front Panel
  kClsDataDisplayObject = 77,  // DataDisplayObject
  kClsBoolean = 79,  // Boolean
  kClsNumeric = 80,  // Numeric
  kClsString = 81,  // String
  kClsArray = 82,  // Array
  kClsCluster = 83,  // Cluster
  kClsRefNum = 85,  // RefNum
  kClsColorBox = 86,  // Color Box
  kClsRing = 87,  // Ring
  kClsSlide = 88,  // Slide
  kClsKnob = 89,  // Knob
  kClsPath = 91,  // Path
  kClsTable = 92,  // Table
  kClsGraphChart = 94,  // Graph/Chart
  kClsPicture = 95,  // Picture
  kClsUserItem = 97,  // UserItem
  kClsTypeDefinition = 100,  // Type Definition
  kClsColorRamp = 101,  // Color Ramp
  kClsAnnex = 104,  // Annex
  kClsListbox = 105,  // Listbox
  kClsCrossList = 124,  // CrossList
  kClsObjHeapHdrExtension = 126,  // ObjHeapHdrExtension
  kClsConnectorPane = 127,  // Connector Pane
  kClsTypeDescriptor = 131,  // TypeDescriptor
  kClsScale = 143,  // Scale
  kClsTag = 148,  // Tag
  kClsSelLabel = 149,  // SelLabel
  kClsWizardData = 166,  // WizardData
  kClsOleVariant = 171,  // OleVariant
  kClsGrouperObject = 172,  // GrouperObject
};

// The object converter of a class (its message-1 method, OSwap): (heap, data
// offset of the object, direction).
typedef MgErr (*ObjSwapProc)(ObjHeap heap, int32 offset, int32 direction);

// The converter of a class that has one, or null.
ObjSwapProc ObjSwapForClass(int32 cls);
// Every class index with a converter, ascending; the count is returned.
int32 ObjSwapClasses(const int16** list);

// The class-index → converter hook that heap conversion uses.  The engine
// registers 7 List, 126 ObjHeapHdrExtension and 131 TypeDescriptor, which
// its own heaps hold; the object system registers the panel classes.
// Registering null removes a class; the former procedure is returned.
ObjSwapProc SetObjSwapProc(int32 cls, ObjSwapProc proc);
ObjSwapProc GetObjSwapProc(int32 cls);
// The per-object procedure for OHByteSwapHeap: converts an object with the
// converter registered for its block's class (nothing when there is none).
QX_EXTERN_C MgErr OSwapByClass(ObjHeap heap, int32 offset, int32 direction);

// Converts an object's bytes (its block of `size` bytes) as class cls does.
MgErr SwapObjectData(uChar* data, int32 size, int32 cls, int32 mode);

// Panel resources (direction 0 converts; 'SLBX' converts in both directions).
QX_EXTERN_C MgErr SwapDDODRsrc(void* rec, int32 direction, int32 size);
QX_EXTERN_C MgErr SwapCosmRsrc(void* rec, int32 direction, int32 size);
QX_EXTERN_C MgErr SwapMCosRsrc(void* rec, int32 direction, int32 size);
QX_EXTERN_C MgErr SwapBCosRsrc(void* rec, int32 direction, int32 size);
QX_EXTERN_C MgErr SwapSNUMRsrc(void* rec, int32 direction, int32 size);
QX_EXTERN_C MgErr SwapSLBXRsrc(void* rec, int32 direction, int32 size);
QX_EXTERN_C MgErr SwapLablRsrc(void* rec, int32 direction, int32 size);
// A saved panel scrap of `size` bytes (direction 0 converts).
QX_EXTERN_C MgErr SwapScrapRsrc(void* scrap, int32 direction, int32 size);

// The same layouts in any mode, for test tooling that writes file order.
enum : uInt32 {
  kRsrcDDOD = FourCC("DDOD"), kRsrcCosm = FourCC("Cosm"),
  kRsrcMCos = FourCC("MCos"), kRsrcBCos = FourCC("BCos"),
  kRsrcSNUM = FourCC("SNUM"), kRsrcSLBX = FourCC("SLBX"),
  kRsrcLabl = FourCC("Labl"), kRsrcMLbl = FourCC("MLbl"),
};
MgErr SwapRsrcData(uInt32 type, uChar* rec, int32 size, int32 mode);
MgErr SwapScrapData(uChar* scrap, int32 size, int32 mode);

// The room a Pascal string takes in these records: 4 × ((length + 4) div 4).
inline int32 PaddedPStrRoom(uChar length) { return 4 * ((int32(length) + 4) / 4); }
