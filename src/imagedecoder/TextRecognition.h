#pragma once

#include <memory>

namespace tesseract {
class TessBaseAPI;
}

namespace lumra::ocr {

// Whether the program was started to recognise text (see platform/ocr/TextRecognitionProgram.h).
bool isTextRecognition(int argc, char** argv);

// Tesseract's OpenMP threads spin while they wait and multiply its CPU time; libgomp reads its
// thread limit once, when it is loaded, so the program runs itself again with one thread set.
// Returns only when that is already so (or the run failed).
void runWithOneThread(char** argv);

// The engine with English data from the folder the program was given, warmed up by one small
// recognition so that nothing is loaded later; null when the data cannot be read. Before confining.
std::unique_ptr<tesseract::TessBaseAPI> loadEngine(int argc, char** argv);

// Answers recognition requests until Lumra closes the connection.
[[noreturn]] void serveTextRecognition(tesseract::TessBaseAPI& engine);

} // namespace lumra::ocr
