// VI references held by the VI server, as the engine sees them: each VI
// keeps a list of the references that hold it, which keeps it from being
// purged; and the set-up of VIs that run for remote callers.
#pragma once
#include "mgsource/extcode.h"

// A new reference to the VI (a non-zero number), 0 when memory is short.
int32 NewVIRef(UHandle vi);
// Releases one reference: 0, or 1 for a number that names none.
MgErr DisposeVIRef(int32 ref);
// The number of references held on the VI (the second argument is 0).
QX_EXTERN_C int32 VIHasRefs(UHandle vi, int32 zero);
// Releases every reference in the VI's list.
QX_EXTERN_C void DisposeVIRefList(UHandle vi);
// Releases every reference of every VI.
QX_EXTERN_C void VIRefReleaseAll();
// Prepares a proxy-callee VI (kind 9): its data space is made when it has
// none.  1 for a VI of another kind, 2 when memory is short.
QX_EXTERN_C MgErr PxCalleeInstallCode(UHandle vi);

// Fills the engine's VI-server hooks; called at start-up.
void ServerInstallEngineHooks();
// The refnum test of the diagrams (kind 7) asks the automation refnum jar;
// part of the engine hooks.
void ServerInstallRefnumHooks();
