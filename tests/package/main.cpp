// Uses the installed headers and libraries: the exported repository and the
// core's builder functions must link.
#include <iostream>
#include <memory>

#include "obd/ServiceBuilders.h"
#include "zelt/RoutineRepository.h"

int main() {
    std::shared_ptr<obd::IQuorvix> root;  // no core here: only linking is checked
    if (root) {
        zelt::RoutineRepository repository(root);
        std::cout << repository.isConnected() << '\n';
    }
    std::cout << "zelt consumer linked\n";
    return 0;
}
