// Picture size names: "QCIF", "CIF", "4CIF", "16CIF", or two numbers as "%d*%d".
#pragma once

// Applies a size text to width and height: a size name sets both; otherwise a leading number sets
// the width and a following "*number" the height, and what cannot be read stays as it was.
void ApplyVideoSizeText(const char* text, int& width, int& height);
