// Sentrel's convenience queries: the layer's, used on a VirusDatabase.
#pragma once

#include "HVN/Code/Clearer/FMDB/FMDatabaseAdditions.h"
#include "Sentrel/VirusDatabase.h"

namespace VirusDatabaseAdditions = FMDatabaseAdditions;
