#include "app/WindowShells.h"
