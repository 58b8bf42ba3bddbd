// Chat (SIP MESSAGE) and presence (SUBSCRIBE/NOTIFY, PUBLISH of our own status).

#include "engine/linphone/LinphoneEngineImpl.h"

#include <QFile>

#include <linphone/core.h>

namespace corvid {

using namespace engine_rules;
using namespace engine_impl;

namespace {

int presenceStatus(const std::shared_ptr<lp::Friend>& f) {
    if (f->getConsolidatedPresence() == lp::ConsolidatedPresence::Offline) return Presence::Offline;
    // The wrapper's PresenceModel::getActivity() releases an object it does not own and crashes;
    // the activity is read through the C interface instead.
    auto model = f->getPresenceModel();
    if (model) {
        auto* cModel =
            reinterpret_cast<const LinphonePresenceModel*>(std::const_pointer_cast<lp::PresenceModel>(model)->cPtr());
        if (LinphonePresenceActivity* activity = linphone_presence_model_get_activity(cModel)) {
            switch (linphone_presence_activity_get_type(activity)) {
            case LinphonePresenceActivityOnThePhone:
                return Presence::OnThePhone;
            case LinphonePresenceActivityAway:
            case LinphonePresenceActivityBreakfast:
            case LinphonePresenceActivityDinner:
            case LinphonePresenceActivityHoliday:
            case LinphonePresenceActivityLunch:
            case LinphonePresenceActivityMeal:
            case LinphonePresenceActivityVacation:
            case LinphonePresenceActivityInTransit:
            case LinphonePresenceActivityTravel:
            case LinphonePresenceActivitySleeping:
            case LinphonePresenceActivityShopping:
                return Presence::Away;
            case LinphonePresenceActivityPermanentAbsence:
                return Presence::Offline;
            case LinphonePresenceActivityBusy:
            case LinphonePresenceActivityAppointment:
            case LinphonePresenceActivityMeeting:
            case LinphonePresenceActivityPresentation:
            case LinphonePresenceActivityPerformance:
            case LinphonePresenceActivitySteering:
            case LinphonePresenceActivityWorship:
                return Presence::Busy;
            default:
                break;
            }
        }
    }
    switch (f->getConsolidatedPresence()) {
    case lp::ConsolidatedPresence::Online:
        return Presence::Online;
    case lp::ConsolidatedPresence::Busy:
    case lp::ConsolidatedPresence::DoNotDisturb:
        return Presence::Busy;
    default:
        return Presence::Offline;
    }
}

constexpr int kMaxChatBytes = 16 * 1024;

} // namespace

void LinphoneEngine::Impl::onMessageReceived(const std::shared_ptr<lp::ChatMessage>& message) {
    noteRequest();
    if (!message || !message->getFromAddress()) return;
    const QString user = qstr(message->getFromAddress()->getUsername());
    const QString text = QString::fromUtf8(message->getUtf8Text().c_str());
    const QString type = qstr(message->getContentType());
    post([q = q, user, text, type] { emit q->ChatMessageReceived(user, text, type); });
}

void LinphoneEngine::Impl::onPresenceReceived(const std::shared_ptr<lp::Friend>& f) {
    if (!f || !f->getAddress()) return;
    const QString user = qstr(f->getAddress()->getUsername());
    const int status = presenceStatus(f);
    post([q = q, user, status] { emit q->ChatContactStatus(user, status); });
}

void LinphoneEngine::Impl::onSubscriptionRequested(const std::shared_ptr<lp::Friend>& f) {
    // Without an answer here the library accepts the SUBSCRIBE and then never sends a NOTIFY.
    // Agents of our own domain may watch us: their watcher becomes a friend that may subscribe.
    // The friend list is changed after the callback has returned.
    // The watcher waits in the engine's table, not in the queued event: going offline drops it
    // together with the core, so no friend of the library outlives its core.
    if (!f || !f->getAddress()) return;
    const bool wasEmpty = pendingWatchers.empty();
    pendingWatchers.push_back(f);
    if (wasEmpty) post([this] { answerWatchers(); });
}

void LinphoneEngine::Impl::answerWatchers() {
    const auto watchers = std::move(pendingWatchers);
    pendingWatchers.clear();
    if (!core) return;
    for (const auto& watcher : watchers) {
        const bool sameDomain = qstr(watcher->getAddress()->getDomain()).compare(domain, Qt::CaseInsensitive) == 0;
        if (sameDomain) {
            watcher->setIncSubscribePolicy(lp::SubscribePolicy::SPAccept);
            watcher->enableSubscribes(false);
            core->getDefaultFriendList()->addFriend(watcher);
        } else {
            watcher->setIncSubscribePolicy(lp::SubscribePolicy::SPDeny);
        }
    }
}

// --- chat and presence ---------------------------------------------------------------------------

bool LinphoneEngine::ChatAddContact(const QString& userName) {
    if (!d->checkStarted() || !d->checkGrammars()) return false;
    const QString user = chatUserName(userName);
    if (user.isEmpty() || user != userName.trimmed()) return d->fail(EngineError::InvalidUri);
    if (d->contacts.contains(user)) return true;
    auto address = d->identityFor(user);
    if (!address) return d->fail(EngineError::InvalidUri);
    auto list = d->core->getDefaultFriendList();
    auto contact = list->findFriendByAddress(address);
    if (!contact) {
        contact = d->core->createFriendWithAddress(address->asStringUriOnly());
        if (!contact) return d->fail(EngineError::InvalidUri);
        contact->setIncSubscribePolicy(lp::SubscribePolicy::SPAccept);
        contact->enableSubscribes(true);
        if (list->addFriend(contact) != lp::FriendList::Status::OK) return d->fail(EngineError::InvalidValue);
    } else {
        // Already known, as a watcher of ours (or a contact removed before): a change of a friend
        // in the list takes effect, and sends its SUBSCRIBE, only when the edit is done.
        contact->edit();
        contact->setIncSubscribePolicy(lp::SubscribePolicy::SPAccept);
        contact->enableSubscribes(true);
        contact->done();
    }
    d->contacts.insert(user, contact);
    return true;
}

bool LinphoneEngine::ChatRemoveContact(const QString& userName) {
    if (!d->checkStarted() || !d->checkGrammars()) return false;
    // The window passes the entry as shown, perhaps with the presence text after the name.
    const QString user = chatUserName(userName);
    if (user.isEmpty()) return d->fail(EngineError::InvalidUri);
    auto contact = d->contacts.take(user);
    if (!contact) return d->fail(EngineError::InvalidValue);
    // Ends our subscription (the edit takes effect when done), then forgets the contact.
    contact->edit();
    contact->enableSubscribes(false);
    contact->done();
    d->core->getDefaultFriendList()->removeFriend(contact);
    return true;
}

bool LinphoneEngine::ChatSetStatus(int status) {
    if (!d->checkStarted() || !d->checkGrammars()) return false;
    auto& core = d->core;
    switch (status) {
    case Presence::Online:
        core->setConsolidatedPresence(lp::ConsolidatedPresence::Online);
        return true;
    case Presence::Offline:
        core->setConsolidatedPresence(lp::ConsolidatedPresence::Offline);
        return true;
    case Presence::Away:
        core->setPresenceModel(core->createPresenceModelWithActivity(lp::PresenceActivity::Type::Away, ""));
        return true;
    case Presence::OnThePhone:
        core->setPresenceModel(core->createPresenceModelWithActivity(lp::PresenceActivity::Type::OnThePhone, ""));
        return true;
    case Presence::Busy:
        core->setPresenceModel(core->createPresenceModelWithActivity(lp::PresenceActivity::Type::Busy, ""));
        return true;
    default:
        return d->fail(EngineError::InvalidValue);
    }
}

bool LinphoneEngine::ChatSendMessage(const QString& userName, const QString& text, int, int) {
    // The two numbers are fixed values of the window's call; a message is plain text.
    if (!d->checkStarted() || !d->checkGrammars()) return false;
    const QString user = chatUserName(userName);
    if (user.isEmpty() || user != userName.trimmed()) return d->fail(EngineError::InvalidUri);
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() > kMaxChatBytes) return d->fail(EngineError::InvalidValue);
    auto address = d->identityFor(user);
    if (!address) return d->fail(EngineError::InvalidUri);
    auto room = d->core->getChatRoom(address);
    if (!room) return d->fail(EngineError::ConnectRequest);
    auto message = room->createMessageFromUtf8(std::string(utf8.constData(), size_t(utf8.size())));
    if (!message) return d->fail(EngineError::ConnectRequest);
    message->send();
    return true;
}

} // namespace corvid
