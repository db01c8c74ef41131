#include "app/program.h"

int main(int argc, char** argv) { return zivorna::app::StartProgram(argc, argv); }
