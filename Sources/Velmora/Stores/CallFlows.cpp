#include <Velmora/Stores/AppStore.hpp>

namespace velmora {

void AppStore::receiveCall(const std::string& key) {
    if (fatal_) return;
    // The latest call is the one ringing; an earlier one not yet taken has been answered or lost.
    incomingCall_ = key;
    setSelectedTab(QStringLiteral("Caja"));
    emit callReceived();
}

std::optional<std::string> AppStore::takeIncomingCall() {
    return std::exchange(incomingCall_, std::nullopt);
}

void AppStore::setCallStatus(const QString& status) {
    if (status == callStatus_) return;
    callStatus_ = status;
    emit callStatusChanged();
}

} // namespace velmora
