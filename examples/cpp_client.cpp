// Calls the example servers' functions, and one they do not have.
//
//   cpp_client HOST PORT
#include <cstdlib>
#include <iostream>
#include <string>

#include <razivu/razivu.hpp>

int main(int argc, char **argv) {
    if (argc != 3) {
        std::cerr << "usage: cpp_client HOST PORT\n";
        return 2;
    }
    try {
        razivu::Connection server(argv[1], static_cast<uint16_t>(std::atoi(argv[2])));
        std::cout << "Add(2, 3) = " << server.call("Add", 2, 3).get<int32_t>() << "\n";
        std::cout << "Greet(\"world\") = " << server.call("Greet", "world").get<std::string>() << "\n";
        try {
            server.call("Subtract", 5, 3);
        } catch (const razivu::Error &e) {
            std::cout << e.what() << "\n";
        }
        return 0;
    } catch (const razivu::Error &e) {
        std::cerr << "cpp_client: " << e.what() << "\n";
        for (const razivu::Record &r : e.records()) {
            std::cerr << "  " << r.text << "\n";
        }
        return 1;
    }
}
