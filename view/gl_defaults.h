#pragma once

// Call before the QApplication exists: every view, thumbnail and zoom context then is OpenGL 2.1
// (Mesa gives a compatibility context, so fixed-function drawing works) with a 24-bit depth buffer
// for picking, and all of them share one group, so mesh buffers are uploaded once.
void setProgramGlDefaults();
