// print_code_pages: prints the ANSI and the OEM code page this Windows (or
// wine, which takes them from LC_ALL and LANG) runs programs with, as
// "1252 437". scripts/windows-test runs the programs under more than one
// code page and checks with it that each took effect.
#include <windows.h>

#include <cstdio>

int main() {
  std::printf("%u %u\n", GetACP(), GetOEMCP());
  return 0;
}
