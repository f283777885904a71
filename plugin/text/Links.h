#ifndef TRACKPOST_TEXT_LINKS_H
#define TRACKPOST_TEXT_LINKS_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A run of code points, [begin, end).
struct TextSpan {
    std::size_t begin;
    std::size_t end;
};

// Whose reading of links: X's published text library's, a Mastodon server's (the same domains,
// but only after "http://" or "https://", and wider paths and queries), or Bluesky's client
// library's (links and tags as findBlueskyFacets finds them).
enum class LinkRules { X, Mastodon, Bluesky };

// The links in `text` as `rules` find them: http(s) addresses and, for X, bare domains, whose
// top-level domain is known, with port, path and query, trailing punctuation left out. In order,
// never overlapping.
std::vector<TextSpan> findLinks(std::u32string_view text, LinkRules rules = LinkRules::X);

// A "@user" or "@user@domain" mention as a Mastodon server finds it: from `begin` (the "@") to
// `end`, the user's name ending at `nameEnd`.
struct Mention {
    std::size_t begin;
    std::size_t nameEnd;
    std::size_t end;
};
// The mentions in `text`, in order: "@" after no letter, digit, mark, "_", "=" or "/"; a name of
// ASCII letters, digits and "_" (runs of "." and "-" between); then "@" and a domain of word
// characters (likewise), if any. A mention followed by "@", a Latin accent or "://" is none.
std::vector<Mention> findMentions(std::u32string_view text);

// A text read once for what counting and cutting it need: its code points with the byte offset of
// each (the text's size last), its links (as `rules` find them; with Mastodon's, its mentions too)
// and where its grapheme clusters begin (its size last; with Bluesky's rules, Indic conjuncts
// whole).
struct TextLayout {
    std::u32string codePoints;
    std::vector<std::size_t> offsets;
    std::vector<TextSpan> links;
    std::vector<std::size_t> bounds;
    std::vector<Mention> mentions;
};
TextLayout layOut(std::string_view text, LinkRules rules = LinkRules::X);

// The #tags in `text`: "#" after no letter or digit, then letters, marks, digits and "_"; with
// Bluesky's rules, its tags and cashtags.
std::vector<TextSpan> findTags(std::u32string_view text, LinkRules rules = LinkRules::X);

#endif
