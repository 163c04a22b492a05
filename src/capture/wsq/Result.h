#pragma once
// The codec reports bad input and impossible requests as results carrying an error text, never by throwing out.
#include "util/Result.h"

namespace qev::wsq {
using qev::Error;
using qev::fail;
using qev::Result;
} // namespace qev::wsq
