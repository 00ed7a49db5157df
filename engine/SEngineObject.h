#pragma once

// Common base of the engine objects handed out by index (reader, analyser, grids),
// so that GetEngineObject can return any of them and the caller can check the type.
class SEngineObject {
 public:
  virtual ~SEngineObject() = default;
};
