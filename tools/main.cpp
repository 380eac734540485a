// The ostrelin command-line tool.
#include <cstdio>

int main() {
  std::puts("ostrelin");
  return 0;
}
