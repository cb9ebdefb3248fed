#include "core/zentool.h"
