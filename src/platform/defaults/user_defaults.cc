#include "platform/defaults/user_defaults.h"

#include <algorithm>

#include "platform/foundation/format.h"
#include "platform/defaults/preferences_domain.h"

namespace qlt {

namespace {

struct ApplicationDomainState {
  std::mutex mutex;
  std::string domain = UserDefaults::kDefaultApplicationDomain;
  bool standardCreated = false;
};

ApplicationDomainState& applicationDomainState() {
  static auto& state = *new ApplicationDomainState;
  return state;
}

}  // namespace

bool UserDefaults::setApplicationDomain(const std::string& domain) {
  auto& state = applicationDomainState();
  std::lock_guard lock(state.mutex);
  if (state.standardCreated && state.domain != domain) return false;
  state.domain = domain;
  return true;
}

std::string UserDefaults::applicationDomain() {
  auto& state = applicationDomainState();
  std::lock_guard lock(state.mutex);
  return state.domain;
}

UserDefaults& UserDefaults::standard() {
  // Never destroyed, so that observers and late readers stay valid while the
  // process exits.
  static UserDefaults& instance = *[] {
    auto& state = applicationDomainState();
    std::string domain;
    {
      std::lock_guard lock(state.mutex);
      state.standardCreated = true;
      domain = state.domain;
    }
    return new UserDefaults(domain);
  }();
  return instance;
}

UserDefaults::UserDefaults(const std::string& suiteName)
    : domainName_(suiteName.empty() ? applicationDomain() : suiteName),
      registration_(std::make_shared<PropertyListDictionary>()) {
  own_ = attach(PreferencesDomain::named(domainName_));
}

UserDefaults::~UserDefaults() {
  own_.domain->removeListener(own_.listener);
  for (auto& suite : suites_) suite.domain->removeListener(suite.listener);
}

UserDefaults::Suite UserDefaults::attach(std::shared_ptr<PreferencesDomain> domain) {
  ObserverToken listener =
      domain->addListener([this](const PreferencesDomain::ChangedKeys& keys) { updateObservers(&keys); });
  return {std::move(domain), listener};
}

void UserDefaults::addSuiteNamed(const std::string& suiteName) {
  auto domain = PreferencesDomain::named(suiteName);
  {
    std::lock_guard lock(mutex_);
    if (domain == own_.domain) return;
    for (auto& suite : suites_) {
      if (suite.domain == domain) return;
    }
  }
  Suite suite = attach(std::move(domain));
  {
    std::lock_guard lock(mutex_);
    suites_.push_back(std::move(suite));
  }
  updateObservers(nullptr);
}

void UserDefaults::removeSuiteNamed(const std::string& suiteName) {
  auto domain = PreferencesDomain::named(suiteName);
  std::optional<Suite> removed;
  {
    std::lock_guard lock(mutex_);
    auto found = std::find_if(suites_.begin(), suites_.end(), [&](auto& suite) { return suite.domain == domain; });
    if (found == suites_.end()) return;
    removed = std::move(*found);
    suites_.erase(found);
  }
  removed->domain->removeListener(removed->listener);
  updateObservers(nullptr);
}

void UserDefaults::registerDefaults(const PropertyListDictionary& defaults) {
  std::set<std::string> keys;
  {
    std::lock_guard lock(mutex_);
    auto merged = std::make_shared<PropertyListDictionary>(*registration_);
    for (auto& [key, value] : defaults) {
      (*merged)[key] = value;
      keys.insert(key);
    }
    registration_ = std::move(merged);
  }
  updateObservers(&keys);
}

UserDefaults::SearchList UserDefaults::searchList() const {
  std::lock_guard lock(mutex_);
  SearchList list;
  list.domains.reserve(suites_.size() + 1);
  list.domains.push_back(own_.domain);
  for (auto& suite : suites_) list.domains.push_back(suite.domain);
  list.registration = registration_;
  return list;
}

std::optional<PropertyList> UserDefaults::lookUp(const SearchList& list, const std::string& key) {
  for (auto& domain : list.domains) {
    if (auto value = domain->value(key)) return value;
  }
  if (auto found = list.registration->find(key); found != list.registration->end()) return found->second;
  return std::nullopt;
}

std::optional<PropertyList> UserDefaults::objectForKey(const std::string& key) const {
  return lookUp(searchList(), key);
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (!value) return std::nullopt;
  if (auto text = value->string()) return *text;
  if (auto number = value->integer()) return std::to_string(*number);
  if (auto number = value->real()) return FormatArgument::formatDouble(*number);
  if (auto flag = value->boolean()) return *flag ? "1" : "0";
  return std::nullopt;
}

int64_t UserDefaults::integerForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value ? value->integerValue().value_or(0) : 0;
}

double UserDefaults::doubleForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value ? value->numberValue().value_or(0) : 0;
}

bool UserDefaults::boolForKey(const std::string& key) const {
  auto value = objectForKey(key);
  return value && value->boolValue();
}

std::optional<Bytes> UserDefaults::dataForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (auto data = value ? value->data() : nullptr) return *data;
  return std::nullopt;
}

std::optional<PropertyListArray> UserDefaults::arrayForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (auto array = value ? value->array() : nullptr) return *array;
  return std::nullopt;
}

std::optional<PropertyListDictionary> UserDefaults::dictionaryForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (auto dictionary = value ? value->dictionary() : nullptr) return *dictionary;
  return std::nullopt;
}

std::optional<Date> UserDefaults::dateForKey(const std::string& key) const {
  auto value = objectForKey(key);
  if (auto date = value ? value->date() : nullptr) return *date;
  return std::nullopt;
}

PropertyListDictionary UserDefaults::dictionaryRepresentation() const {
  SearchList list = searchList();
  PropertyListDictionary result = *list.registration;
  for (auto domain = list.domains.rbegin(); domain != list.domains.rend(); ++domain) {
    for (auto& [key, value] : (*domain)->contents()) result[key] = value;
  }
  return result;
}

bool UserDefaults::setObject(const PropertyList& value, const std::string& key, Error* error) {
  return own_.domain->setValue(key, value, error);
}

bool UserDefaults::setString(const std::string& value, const std::string& key, Error* error) {
  return setObject(PropertyList(value), key, error);
}

bool UserDefaults::setInteger(int64_t value, const std::string& key, Error* error) {
  return setObject(PropertyList(static_cast<long long>(value)), key, error);
}

bool UserDefaults::setDouble(double value, const std::string& key, Error* error) {
  return setObject(PropertyList(value), key, error);
}

bool UserDefaults::setBool(bool value, const std::string& key, Error* error) {
  return setObject(PropertyList(value), key, error);
}

bool UserDefaults::removeObjectForKey(const std::string& key, Error* error) {
  return own_.domain->setValue(key, std::nullopt, error);
}

void UserDefaults::synchronize() {
  for (auto& domain : searchList().domains) domain->refresh();
}

ObserverToken UserDefaults::addObserver(const std::string& key, Observer observer) {
  auto current = objectForKey(key);
  std::lock_guard lock(mutex_);
  ObserverToken token = observers_.add(key, std::move(observer));
  lastNotified_[token] = std::move(current);
  return token;
}

void UserDefaults::removeObserver(ObserverToken token) {
  observers_.remove(token);
  std::lock_guard lock(mutex_);
  lastNotified_.erase(token);
}

void UserDefaults::updateObservers(const std::set<std::string>* keys) {
  auto observed = observers_.snapshot();
  std::erase_if(observed, [&](auto& entry) { return keys && !keys->count(entry.second); });
  if (observed.empty()) return;

  // Reading may notice a change on disk and update observers from inside;
  // the comparison below then finds nothing new to report.
  SearchList list = searchList();
  std::map<std::string, std::optional<PropertyList>> values;
  for (auto& [token, key] : observed) {
    if (!values.count(key)) values[key] = lookUp(list, key);
  }

  std::vector<std::pair<ObserverToken, std::optional<PropertyList>>> pending;
  {
    std::lock_guard lock(mutex_);
    for (auto& [token, key] : observed) {
      auto last = lastNotified_.find(token);
      if (last == lastNotified_.end() || last->second == values[key]) continue;
      last->second = values[key];
      pending.emplace_back(token, values[key]);
    }
  }
  for (auto& [token, value] : pending) {
    {
      // A later update on another thread may already have reported a newer
      // value; delivering this one after it would leave observers behind.
      std::lock_guard lock(mutex_);
      auto last = lastNotified_.find(token);
      if (last == lastNotified_.end() || !(last->second == value)) continue;
    }
    observers_.notifyOne(token, value);
  }
}

}  // namespace qlt
