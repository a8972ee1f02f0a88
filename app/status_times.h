#pragma once
// How long the status bar shows a message (ms): a finished action, and a hint about what to do.
// A message shown with 0 stays until the next one.

constexpr int FinishedActionMs = 8000;
constexpr int HintMs = 5000;
