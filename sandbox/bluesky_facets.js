// Bluesky's reading of texts by its official client library, from sandbox/node_modules: one JSON
// string a line in; a line out with its grapheme clusters and its facets (mentions left out: they
// need a handle's resolution), as JSON, with the Unicode version of the engine's clusters.
// The library is an ES module: imported, not required, so that node 18 (Debian's) loads it too.
const readline = require('readline');

function read(RichText, line) {
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
    return {graphemes: text.graphemeLength, unicode: process.versions.unicode, facets};
}

import('@atproto/api').then(({RichText}) => {
    const lines = readline.createInterface({input: process.stdin});
    lines.on('line', (line) => process.stdout.write(JSON.stringify(read(RichText, line)) + '\n'));
});
