#include "core/SharedState.h"
