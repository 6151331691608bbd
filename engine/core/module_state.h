// State the engine module keeps once per process: its own handle, the lock around object
// construction, and the wipe-on-release switch shared by every text buffer.
#pragma once

namespace corvane {

void* ModuleHandle();

// Process attach and detach of the module: create the lock, start every component,
// and the reverse.
void ModuleAttach(void* module);
void ModuleDetach();

// Serialises the construction of objects; does nothing while the module is detached.
class ConstructionLock {
  public:
    ConstructionLock();
    ~ConstructionLock();
    ConstructionLock(const ConstructionLock&) = delete;
    ConstructionLock& operator=(const ConstructionLock&) = delete;
};

// Objects still alive when the module detaches are destroyed before their window class
// and the socket runtime go, so that no window procedure points into unloaded code.
class LiveObject {
  public:
    LiveObject();
    LiveObject(const LiveObject&) = delete;
    LiveObject& operator=(const LiveObject&) = delete;
    virtual void Destroy() = 0;

  protected:
    ~LiveObject();
    // Out of the list: a detaching module no longer finds the object (twice is harmless).
    void Unlink();

  private:
    friend void ModuleDetach();
    LiveObject* previous_ = nullptr;
    LiveObject* next_ = nullptr;
};

bool WipeOnRelease();
void SetWipeOnRelease(bool on);

}  // namespace corvane
