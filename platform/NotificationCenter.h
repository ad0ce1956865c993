#pragma once
// Session-wide notifications between Tovix and TovixHelper, carried as D-Bus
// signals: one signal per notification name on one object path and interface,
// with either no argument (no userInfo) or one a{sv} argument (the userInfo),
// so "no dictionary" and "empty dictionary" stay distinct.
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <optional>

namespace tovix {

using UserInfo = std::optional<QVariantMap>;

class NotificationCenter : public QObject {
  Q_OBJECT
 public:
  // Receives the userInfo and the sender's unique bus name.
  using Handler = std::function<void(const UserInfo&, const QString& sender)>;

  static constexpr const char* kObjectPath = "/org/tovix/Tovix";
  static constexpr const char* kInterface = "org.tovix.Tovix";

  explicit NotificationCenter(QObject* parent = nullptr);
  ~NotificationCenter() override = default;

  // Whether the user's session bus could be reached.
  bool isConnected() const;

  // Posts a notification to every observer of the session; returns whether it
  // was handed to the bus.
  virtual bool post(const QString& name, const UserInfo& userInfo = std::nullopt) const;

  // Calls handler on this thread's event loop for every notification of that
  // name from any sender. One dictionary with string keys (a{sv}, a{ss}, ...)
  // is the userInfo; any other arguments are logged and read as an empty
  // dictionary, so a malformed request still gets its answer. Values that are
  // not strings, numbers or booleans are left out of the dictionary.
  virtual bool observe(const QString& name, Handler handler);
};

}  // namespace tovix
