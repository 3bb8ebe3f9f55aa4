#include "KVEL_32.h"

int main(int argc, char** argv) {
  return KVEL_32(argc, argv);
}
