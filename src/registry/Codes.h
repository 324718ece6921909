// The one description of a registry code for a person: a few words and the
// number, "not found (error 2)"; a code without words is "error N".
#pragma once

#include <string>

#include "registry/Registry.h"

namespace zandrel::registry {

std::string DescribeCode(LONG code);

}  // namespace zandrel::registry
