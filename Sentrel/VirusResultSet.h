// Sentrel's cursor: the layer's cursor; its log lines follow its VirusDatabase.
#pragma once

#include "HVN/Code/Clearer/FMDB/FMResultSet.h"
#include "Sentrel/VirusDatabase.h"

using VirusResultSet = FMResultSet;
