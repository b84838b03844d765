// SDL is loaded the first time sound is used, not when a program starts: a render, a song edit or
// a look at a song never pays for the sound system and the many libraries behind it (about 5 ms
// of processor time and more in wall time at every start).
//
// The program defines the few SDL functions it calls itself; each forwards to the library's own,
// looked up when sound is first needed. A function not listed here fails the link: add it below.
// When the library cannot be loaded, every call fails as SDL reports a failure, so the sound
// device simply cannot be opened. Each function may be called from the threads SDL allows it on;
// the first call, from any thread, loads the library once.
#include <SDL.h>
#include <dlfcn.h>

#include <atomic>

#include "engine/audio/devices.h"
#include "engine/audio/pulse_stream.h"

namespace {

std::atomic<bool> loadTried{false};

struct SdlLibrary {
    decltype(&SDL_SetHint) SetHint = nullptr;
    decltype(&SDL_InitSubSystem) InitSubSystem = nullptr;
    decltype(&SDL_QuitSubSystem) QuitSubSystem = nullptr;
    decltype(&SDL_GetNumAudioDevices) GetNumAudioDevices = nullptr;
    decltype(&SDL_GetAudioDeviceName) GetAudioDeviceName = nullptr;
    decltype(&SDL_OpenAudioDevice) OpenAudioDevice = nullptr;
    decltype(&SDL_PauseAudioDevice) PauseAudioDevice = nullptr;
    decltype(&SDL_LockAudioDevice) LockAudioDevice = nullptr;
    decltype(&SDL_UnlockAudioDevice) UnlockAudioDevice = nullptr;
    decltype(&SDL_CloseAudioDevice) CloseAudioDevice = nullptr;
    decltype(&SDL_GetError) GetError = nullptr;
    decltype(&SDL_GetAudioDeviceStatus) GetAudioDeviceStatus = nullptr;
    decltype(&SDL_PeepEvents) PeepEvents = nullptr;
    decltype(&SDL_GetCurrentAudioDriver) GetCurrentAudioDriver = nullptr;
};

template <class F>
void Find(void* library, F& function, const char* name) {
    function = reinterpret_cast<F>(::dlsym(library, name));
}

// Loaded once, on the first call from any thread; the library stays loaded until exit.
const SdlLibrary& Sdl() {
    static const SdlLibrary sdl = [] {
        SdlLibrary s;
        void* library = ::dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return s;
        Find(library, s.SetHint, "SDL_SetHint");
        Find(library, s.InitSubSystem, "SDL_InitSubSystem");
        Find(library, s.QuitSubSystem, "SDL_QuitSubSystem");
        Find(library, s.GetNumAudioDevices, "SDL_GetNumAudioDevices");
        Find(library, s.GetAudioDeviceName, "SDL_GetAudioDeviceName");
        Find(library, s.OpenAudioDevice, "SDL_OpenAudioDevice");
        Find(library, s.PauseAudioDevice, "SDL_PauseAudioDevice");
        Find(library, s.LockAudioDevice, "SDL_LockAudioDevice");
        Find(library, s.UnlockAudioDevice, "SDL_UnlockAudioDevice");
        Find(library, s.CloseAudioDevice, "SDL_CloseAudioDevice");
        Find(library, s.GetError, "SDL_GetError");
        Find(library, s.GetAudioDeviceStatus, "SDL_GetAudioDeviceStatus");
        Find(library, s.PeepEvents, "SDL_PeepEvents");
        Find(library, s.GetCurrentAudioDriver, "SDL_GetCurrentAudioDriver");
        return s;
    }();
    loadTried = true;
    return sdl;
}

}  // namespace

namespace qtam {

void LoadSoundLibrary() {
    PulseStream::Wanted();  // loads libpulse, which plays first when a server answers
    Sdl();
}

bool SoundLibraryLoadTried() {
    return loadTried;
}

}  // namespace qtam

extern "C" {

SDL_bool SDL_SetHint(const char* name, const char* value) {
    return Sdl().SetHint ? Sdl().SetHint(name, value) : SDL_FALSE;
}

int SDL_InitSubSystem(Uint32 flags) {
    return Sdl().InitSubSystem ? Sdl().InitSubSystem(flags) : -1;
}

void SDL_QuitSubSystem(Uint32 flags) {
    if (Sdl().QuitSubSystem) Sdl().QuitSubSystem(flags);
}

int SDL_GetNumAudioDevices(int iscapture) {
    return Sdl().GetNumAudioDevices ? Sdl().GetNumAudioDevices(iscapture) : -1;
}

const char* SDL_GetAudioDeviceName(int index, int iscapture) {
    return Sdl().GetAudioDeviceName ? Sdl().GetAudioDeviceName(index, iscapture) : nullptr;
}

SDL_AudioDeviceID SDL_OpenAudioDevice(const char* device, int iscapture,
                                      const SDL_AudioSpec* desired, SDL_AudioSpec* obtained,
                                      int allowed_changes) {
    return Sdl().OpenAudioDevice
               ? Sdl().OpenAudioDevice(device, iscapture, desired, obtained, allowed_changes)
               : 0;
}

void SDL_PauseAudioDevice(SDL_AudioDeviceID dev, int pause_on) {
    if (Sdl().PauseAudioDevice) Sdl().PauseAudioDevice(dev, pause_on);
}

void SDL_LockAudioDevice(SDL_AudioDeviceID dev) {
    if (Sdl().LockAudioDevice) Sdl().LockAudioDevice(dev);
}

void SDL_UnlockAudioDevice(SDL_AudioDeviceID dev) {
    if (Sdl().UnlockAudioDevice) Sdl().UnlockAudioDevice(dev);
}

void SDL_CloseAudioDevice(SDL_AudioDeviceID dev) {
    if (Sdl().CloseAudioDevice) Sdl().CloseAudioDevice(dev);
}

SDL_AudioStatus SDL_GetAudioDeviceStatus(SDL_AudioDeviceID dev) {
    return Sdl().GetAudioDeviceStatus ? Sdl().GetAudioDeviceStatus(dev) : SDL_AUDIO_STOPPED;
}

int SDL_PeepEvents(SDL_Event* events, int numevents, SDL_eventaction action, Uint32 minType,
                   Uint32 maxType) {
    return Sdl().PeepEvents ? Sdl().PeepEvents(events, numevents, action, minType, maxType) : -1;
}

const char* SDL_GetCurrentAudioDriver(void) {
    return Sdl().GetCurrentAudioDriver ? Sdl().GetCurrentAudioDriver() : nullptr;
}

const char* SDL_GetError(void) {
    return Sdl().GetError ? Sdl().GetError()
                          : "the SDL library (libSDL2-2.0.so.0) could not be loaded";
}

}  // extern "C"
