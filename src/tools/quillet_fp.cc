#include <nlohmann/json.hpp>

#include <iostream>

#include "platform/date.h"
#include "platform/uuid.h"

int main() {
  nlohmann::json status;
  status["now"] = qlt::Date::now().iso8601();
  status["uuid"] = qlt::newUUIDString();
  std::cout << status.dump() << "\n";
  return 0;
}
