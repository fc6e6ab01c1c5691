// The key index of the loaded library: entries, partitions, the index and its work shares.
// Thread: see the included headers; other folders include only this one.
#pragma once

#include "database/TDBItem.h"
#include "database/TMediumDB.h"
#include "database/TSortThread.h"
#include "database/TSubMediumDB.h"
