#pragma once

#include <string>

namespace qev::quality {

// Operator texts for grades, UTF-8. Unknown values and codes give an empty text.
[[nodiscard]] std::string qualityWord(int quality);
[[nodiscard]] std::string errorText(int code);
// "value (word)" or "value (word, error text)" when the code has an error text.
[[nodiscard]] std::string qualityText(int code, int quality);
// Finger 1..10: right thumb to little finger, then the left hand; anything else is "Desconocido".
[[nodiscard]] std::string fingerName(int finger);

} // namespace qev::quality
