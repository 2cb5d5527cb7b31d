// The update engine's only user-facing output channel.
#pragma once

class UpdaterDisplayInterface {
  public:
    enum Level { LEVEL_INFO = 0, LEVEL_ERROR = 1 };

    virtual void display_progress(bool on) = 0;
    virtual void update_progress(double fraction, const char* label) = 0;
    virtual void update_spinner(bool on, const char* label) = 0;
    virtual void info_message(const char* text) = 0;
    virtual void error_message(const char* text) = 0;

    // Formats into 2048 bytes (longer text is cut); dropped while muted.
    void message(Level level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void mute_messages(bool mute) { muted = mute; }

  protected:
    UpdaterDisplayInterface() = default;
    ~UpdaterDisplayInterface() = default;

  private:
    bool muted = false;
};
