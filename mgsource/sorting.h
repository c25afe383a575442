// Sorting, binary search, byte reversal, counted lists of 32-bit values in
// handles, and in-place case changes of text.
#pragma once
#include "extcode.h"

typedef int32 (*QSortCompareProc)(const void* a, const void* b);
typedef int32 (*QSortDataCompareProc)(const void* a, const void* b, void* data);

QX_EXTERN_C void QSort(void* base, int32 count, int32 size, QSortCompareProc compare);
QX_EXTERN_C void QSortData(void* base, int32 count, int32 size, QSortDataCompareProc compare, void* data);
QX_EXTERN_C int32 BinSearch(const void* base, int32 count, int32 size, const void* key,
                            QSortCompareProc compare);

QX_EXTERN_C void SwapBW(void* p);
QX_EXTERN_C void RevBL(void* p);
// Reverses the bytes of every whole 32-bit word of a handle (application
// or data-space zone); a null handle is ignored.
QX_EXTERN_C void RevBLHandle(UHandle h);
QX_EXTERN_C void RevBQ(void* p);
QX_EXTERN_C int32 SwapWL(void* p);

// Handle lists (HObjList): an application-zone handle holding an int32 count
// and that many 32-bit values.
QX_EXTERN_C MgErr HObjListInsert(UHandle list, int32 value, int32 pos);
QX_EXTERN_C int32 HObjListDelete(UHandle list, int32 pos);
QX_EXTERN_C int32 HObjListSearch(UHandle list, int32 value);
QX_EXTERN_C int32 HObjListSearchDelete(UHandle list, int32 value);
QX_EXTERN_C int32 HObjListBringToFront(UHandle list, int32 value);
QX_EXTERN_C void HCompactObjList(UHandle list);

QX_EXTERN_C void RTToUpper(LStrHandle s);
QX_EXTERN_C void RTToLower(LStrHandle s);
QX_EXTERN_C void BufToLower(void* p, int32 len);
QX_EXTERN_C void BufToUpper(void* p, int32 len);
QX_EXTERN_C void PStrTabsToSpaces(PStr s);
