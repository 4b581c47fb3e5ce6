#pragma once
// The storyboard "Main" as a registry from controller identifier to factory. An identifier that
// no factory serves instantiates nothing; callers check the type of what they get.
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include <QObject>

namespace appkit {

class Storyboard {
public:
    using Factory = std::function<QObject*()>;

    // The application's storyboard "Main".
    static Storyboard& main();

    void registerController(const std::string& identifier, Factory factory);
    bool contains(const std::string& identifier) const;
    // A fresh controller, or nullptr for an identifier without a factory.
    QObject* instantiateControllerWithIdentifier(const std::string& identifier) const;

    template <class T>
    T* instantiateController(const std::string& identifier) const {
        QObject* object = instantiateControllerWithIdentifier(identifier);
        T* typed = dynamic_cast<T*>(object);
        if (!typed && object) delete object;
        return typed;
    }

private:
    mutable std::mutex lock_;
    std::map<std::string, Factory> factories_;
};

}  // namespace appkit
