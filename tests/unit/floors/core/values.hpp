// The bottom floor, including only itself.
#pragma once

#include "core/values.hpp"
