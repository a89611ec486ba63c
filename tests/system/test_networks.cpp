#include "test_networks.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace vela::system::testing {

RunnerNetwork Tee() {
  RunnerNetwork network;
  network.name = "tee";
  network.points = {{"c", {0, 0, 0}}, {"a", {-30, 0, 0}}, {"b", {30, 0, 0}}, {"d", {0, 30, 0}}};
  network.runners = {{"c", "a", 2, 2}, {"c", "b", 2, 2}, {"c", "d", 2, 2}};
  network.endNames = {{"a", "inlet"}};
  return network;
}

RunnerNetwork H4() {
  RunnerNetwork network;
  network.name = "h4";
  network.points = {{"inlet", {0, 0, 60}}, {"s", {0, 0, 0}},     {"a", {-40, 0, 0}},
                    {"b", {40, 0, 0}},     {"g1", {-40, 30, 0}}, {"g2", {-40, -30, 0}},
                    {"g3", {40, 30, 0}},   {"k", {40, -30, 0}},  {"g4", {60, -30, 0}}};
  network.runners = {{"inlet", "s", 3, 4}, {"s", "a", 3, 3},  {"s", "b", 3, 3},
                     {"a", "g1", 2, 2},    {"a", "g2", 2, 2}, {"b", "g3", 2, 2},
                     {"b", "k", 2, 2},     {"k", "g4", 2, 2}};
  network.endNames = {{"inlet", "inlet"}, {"g1", "gate-1"}};
  network.axialSize = 2.0;
  return network;
}

RunnerNetwork Climb() {
  RunnerNetwork network;
  network.name = "climb";
  network.points = {{"s", {0, 0, 0}}, {"a", {-30, 0, 0}}, {"b", {30, 0, 0}}, {"up", {0, 30, 12}},
                    {"top", {1, 60, 24}}};
  network.runners = {{"s", "a", 2.5, 2.5}, {"s", "b", 2.5, 2.5}, {"s", "up", 2.5, 2}, {"up", "top", 2, 2}};
  return network;
}

RunnerNetwork Tube() {
  RunnerNetwork network;
  network.name = "tube";
  network.points = {{"p", {0, 0, 0}}, {"q", {10, 40, 5}}};
  network.runners = {{"p", "q", 3, 2}};
  return network;
}

RunnerNetwork HTree(int levels) {
  RunnerNetwork network;
  network.name = "h-tree";
  network.axialSize = 2.0;
  network.points = {{"inlet", {0, 0, 60}}, {"p", {0, 0, 0}}};
  network.runners = {{"inlet", "p", 4, 4.5}};
  struct Open {
    std::string name;
    Vec3 at;
    bool alongX;
    double half;
    double radius;
  };
  std::vector<Open> level{{"p", {0, 0, 0}, true, 64, 3.5}};
  for (int depth = 0; depth < levels; ++depth) {
    std::vector<Open> next;
    for (const Open& open : level)
      for (const int side : {-1, 1}) {
        const std::string name = open.name + (side < 0 ? "l" : "r");
        Vec3 at = open.at;
        at[open.alongX ? 0 : 1] += side * open.half;
        network.points.push_back({name, at});
        network.runners.push_back({open.name, name, open.radius, open.radius});
        next.push_back({name, at, !open.alongX, open.half / std::sqrt(2.0), std::max(2.0, open.radius - 0.5)});
      }
    level = std::move(next);
  }
  return network;
}

}  // namespace vela::system::testing
