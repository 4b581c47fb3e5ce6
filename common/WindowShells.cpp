#include "common/WindowShells.h"
