// A steering player that looks at the screen's objects the way a person
// would: holds fire, keeps under the enemies, sidesteps shots and bodies it
// sees coming, fires the laser at big enemies. Used by the headless stage
// run and by the game's frame benchmark.
#ifndef STEERING_PLAYER_H
#define STEERING_PLAYER_H

#include <vector>

class CBaseChar;

namespace steering {

// What the player sees: enemy shots and enemy bodies.
struct Threat {
  double x, y, vx, vy, radius;
  bool box;
  double corner[8];
};
struct Scene {
  std::vector<Threat> threats;
  std::vector<const CBaseChar*> enemies;
};

// The play scene's shots and enemies (empty outside play).
Scene Look();
// The pad bits for the next frame.
int Steer();

}  // namespace steering

#endif  // STEERING_PLAYER_H
