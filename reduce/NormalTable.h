#pragma once
// The normal table lives in model/, where the renderer can read it too.

#include "model/NormalTable.h"
