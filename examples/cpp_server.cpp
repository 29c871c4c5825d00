// The greeter's functions in C++: lambdas registered by name.
//
//   cpp_server [PORT]     0 or none: a free port, named on the first line
#include <cstdlib>
#include <iostream>
#include <string>

#include <razivu/razivu.hpp>

int main(int argc, char **argv) {
    try {
        razivu::Server server;
        server.name("cpp_server").port(static_cast<uint16_t>(argc > 1 ? std::atoi(argv[1]) : 0));
        server.function("Add", [](int32_t a, int32_t b) { return a + b; })
            .function("Greet", [](const std::string &name) { return "Hello, " + name; });
        server.run();  // until SIGTERM or Ctrl-C
        return 0;
    } catch (const std::exception &e) {
        std::cerr << "cpp_server: " << e.what() << "\n";
        return 1;
    }
}
