#pragma once

#include <cassert>

// Common base of the engine objects handed out by index (reader, analyser, grids),
// so that GetEngineObject can return any of them and the caller can check the type.
class SEngineObject {
 public:
  virtual ~SEngineObject() = default;
};

// The object GetEngineObject returned, as the type its index stands for. A null
// object or one of another type is caught in debug builds.
template <typename T>
T& EngineObjectAs(SEngineObject* object) {
  assert(object != nullptr && dynamic_cast<T*>(object) != nullptr);
  return *static_cast<T*>(object);
}
