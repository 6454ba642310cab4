// Letter case of engine text, by the runtime's multibyte rules in the
// thread's code page (so é and É fold together under 1252, as the registry's
// own name matching does).
#pragma once

#include <string>

std::string ToUpperMb(std::string text);
std::string ToLowerMb(std::string text);
