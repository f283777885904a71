// The service's count of texts by its published text library, from sandbox/node_modules: one JSON
// string a line in, its weighted length a line out.
const twitterText = require('twitter-text');
const lines = require('readline').createInterface({input: process.stdin});
lines.on('line', (line) => {
    const text = JSON.parse(line);
    process.stdout.write(twitterText.parseTweet(text).weightedLength + '\n');
});
