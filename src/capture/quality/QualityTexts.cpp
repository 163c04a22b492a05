#include "QualityTexts.h"

#include "QualityGrader.h"

#include <array>

namespace qev::quality {

std::string qualityWord(int quality) {
    switch (quality) {
    case 0:
        return "Error: falta huella!";
    case 1:
        return "Excelente";
    case 2:
        return "Muy buena";
    case 3:
        return "Buena";
    case 4:
        return "Regular";
    case 5:
        return "Mala";
    case 9:
        return "Error: No hay impresiones";
    default:
        return {};
    }
}

std::string errorText(int code) {
    switch (code) {
    case kEmptyImage:
        return "Imagen vacía";
    case kTooFewMinutiae:
        return "Faltan minucias";
    case kLibraryMissing:
        return "ERROR: Falta QKNFIQ.DLL";
    case kNoImage:
        return "Falta cargar la imagen";
    case kOutOfMemory:
        return "Falta memoria para procesar la imagen";
    default:
        return {};
    }
}

std::string qualityText(int code, int quality) {
    std::string text = std::to_string(quality) + " (" + qualityWord(quality);
    const std::string error = errorText(code);
    if (!error.empty()) text += ", " + error;
    return text + ")";
}

std::string fingerName(int finger) {
    static const std::array<const char*, 10> kNames = {
        "Pulgar Derecho",   "Indice Derecho",   "Medio Derecho",   "Anular Derecho",   "Meñique Derecho",
        "Pulgar Izquierdo", "Indice Izquierdo", "Medio Izquierdo", "Anular Izquierdo", "Meñique Izquierdo"};
    if (finger < 1 || finger > 10) return "Desconocido";
    return kNames[static_cast<std::size_t>(finger - 1)];
}

} // namespace qev::quality
