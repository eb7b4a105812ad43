// The classes of the signature library that the program may use. Everything else in the
// library is hidden (it is built with hidden visibility and keeps its static layers private).
#pragma once

#define SENTREL_EXPORT __attribute__((visibility("default")))
