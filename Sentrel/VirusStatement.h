// Sentrel's prepared statement: the layer's statement.
#pragma once

#include "HVN/Code/Clearer/FMDB/FMStatement.h"

using VirusStatement = FMStatement;
