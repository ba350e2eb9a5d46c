// The main window's side of the timer measurement.
#include "app/quillmetUnit1.h"

void TForm1::TimerMeasClick() {}

void TForm1::Timer3Timer() {}

void TForm1::Timer4Timer() {}
