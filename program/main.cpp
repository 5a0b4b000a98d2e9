// ZEMASupport4: runs the packaged application named by ZEMA_PLAY.
#include "program/startup.h"

int main(int argc, char** argv) { return zema::run_program(argc, argv); }
