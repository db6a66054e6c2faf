// Search counts (treesearchcount, datasearchcount): how many results a search would give, read
// from the service's plain-text answer. They run on the search pool, apart from every other
// operation.
#include <string>

#include "operations/SearchCountAnswer.h"
#include "operations/StartRequest.h"
#include "operations/UrlEncode.h"
#include "requests/RequestBase.h"
#include "support/Text.h"
#include "transport/FetchToStream.h"

namespace tarnix {

namespace {

// The whole stream from its current position, as text.
std::string ReadStreamText(IStream* stream) {
    STATSTG stat = {};
    ThrowIfFailed(stream->Stat(&stat, STATFLAG_NONAME));
    const ULONG size = stat.cbSize.LowPart;
    std::string text(size, '\0');
    ULONG read = 0;
    if (size > 0) ThrowIfFailed(stream->Read(&text[0], size, &read));
    text.resize(read < size ? read : size);
    return text;
}

class CSearchCountRequest : public CRequestBase<ISearchCountRequest> {
public:
    // ISearchCountRequest
    HRESULT STDMETHODCALLTYPE GetSecondValue(LONG* value) override { return ReadValue(value, m_second, 1); }
    HRESULT STDMETHODCALLTYPE GetLastValue(LONG* value) override { return ReadValue(value, m_last, 0); }
    HRESULT STDMETHODCALLTYPE GetFirstValue(LONG* value) override { return ReadValue(value, m_first, 0); }

    // Host and path; wanted, pending, all values 0.
    void Configure(std::string host, std::string path) {
        Lock lock(m_lock);
        m_path = std::move(path);
        m_first = m_second = m_last = 0;
        ConfigureCore(std::move(host));
    }

protected:
    void Process() override {
        ThrowIfAbandoned();
        ComPtr<IStream> answer = FetchToStream(*this, Host(), m_path);
        std::optional<SearchCounts> counts = ReadSearchCountAnswer(ReadStreamText(answer.get()));
        ThrowHrIf(!counts, E_FAIL);
        SetResults(*counts);
    }

private:
    HRESULT ReadValue(LONG* out, const LONG& value, ULONG add) noexcept {
        if (!out) return E_POINTER;
        Lock lock(m_lock);
        if (HRESULT hr = ResultsReadable(); hr != S_OK) return hr;
        // Unsigned, so that the largest second value wraps instead of overflowing.
        *out = static_cast<LONG>(static_cast<ULONG>(value) + add);
        return S_OK;
    }

    void SetResults(const SearchCounts& counts) {
        Lock lock(m_lock);
        m_first = counts.first;
        m_second = counts.second;
        m_last = counts.last;
        m_state = REQUEST_STATE_DONE;
    }

    std::string m_path;
    LONG m_second = 0;
    LONG m_last = 0;
    LONG m_first = 0;
};

HRESULT StartSearchCount(const char* operation, const char* surname, const char* givenNames,
    const char* birthPlace, int birthYear, const char* deathPlace, int deathYear, const char* father,
    const char* mother, const char* spouse, const char* cobrand, ISearchCountRequest** request) {
    return GuardHr([&] {
        std::string path = Format("%s?op=%s", kGatekeeperPath, operation) +
                           BuildSearchQuery(TextOrEmpty(surname), TextOrEmpty(givenNames), TextOrEmpty(birthPlace),
                                            birthYear, TextOrEmpty(deathPlace), deathYear, TextOrEmpty(father),
                                            TextOrEmpty(mother), TextOrEmpty(spouse), TextOrEmpty(cobrand));
        return StartRequest<CSearchCountRequest>(
            request, [&](CSearchCountRequest& r) { r.Configure(ServiceHost(), std::move(path)); }, &QueueOnSearchPool);
    });
}

}  // namespace

}  // namespace tarnix

using namespace tarnix;

extern "C" HRESULT TARNIX_STDCALL TarnixSearchTree(const char* surname, const char* givenNames,
    const char* birthPlace, int birthYear, const char* deathPlace, int deathYear, const char* father,
    const char* mother, const char* spouse, const char* cobrand, ISearchCountRequest** request) {
    return StartSearchCount("treesearchcount", surname, givenNames, birthPlace, birthYear, deathPlace, deathYear,
                            father, mother, spouse, cobrand, request);
}

extern "C" HRESULT TARNIX_STDCALL TarnixSearchData(const char* surname, const char* givenNames,
    const char* birthPlace, int birthYear, const char* deathPlace, int deathYear, const char* father,
    const char* mother, const char* spouse, const char* cobrand, ISearchCountRequest** request) {
    return StartSearchCount("datasearchcount", surname, givenNames, birthPlace, birthYear, deathPlace, deathYear,
                            father, mother, spouse, cobrand, request);
}
