// The program's entry point.
#include "ui/dialog_func.h"

int main(int argc, char** argv) { return WinMain(argc, argv); }
