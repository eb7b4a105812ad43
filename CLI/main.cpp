// The halvorn command: a thin front over the engine.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    std::printf("halvorn: no command yet\n");
    return 0;
}
