#include "driver/program.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  quilbo::InitPlatform(argc, argv);
  quilbo::RunProgram(quilbo::RunDriver);
}
