#pragma once
// The engine reports expected failures as results carrying an error text.
#include "util/Result.h"

namespace qev::dbf {
using qev::Error;
using qev::fail;
using qev::Result;
} // namespace qev::dbf
