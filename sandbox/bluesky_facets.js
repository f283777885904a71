// Bluesky's reading of texts by its official client library, from sandbox/node_modules: one JSON
// string a line in; a line out with its grapheme clusters and its facets (mentions left out: they
// need a handle's resolution), as JSON.
const {RichText} = require('@atproto/api');
const lines = require('readline').createInterface({input: process.stdin});
lines.on('line', (line) => {
    const text = new RichText({text: JSON.parse(line)});
    text.detectFacetsWithoutResolution();
    const facets = [];
    for (const facet of text.facets || []) {
        for (const feature of facet.features) {
            const kind = feature.$type.replace('app.bsky.richtext.facet#', '');
            if (kind === 'mention') continue;
            facets.push({
                byteStart: facet.index.byteStart,
                byteEnd: facet.index.byteEnd,
                kind,
                value: kind === 'link' ? feature.uri : feature.tag,
            });
        }
    }
    process.stdout.write(JSON.stringify({graphemes: text.graphemeLength, facets}) + '\n');
});
