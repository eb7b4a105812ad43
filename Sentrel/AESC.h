// Sentrel's name for the byte-block AES operations.
#pragma once

#include "HVN/Code/Public/AES.h"

using AESC = AES;
