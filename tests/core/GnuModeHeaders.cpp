// Compiled with the compiler's GNU dialect (-std=gnu++20), where names such as `unix` and `linux`
// are predefined macros: a program built with CMake's defaults must be able to include the whole
// public API. Building this file is the test.
#include <PizzaCore/PizzaCore.hpp>

#ifndef unix
#error "expected the GNU dialect, where unix is a predefined macro"
#endif

int main() { return pizzacore::Instant{0}.unixSeconds() > 0 ? 0 : 1; }
