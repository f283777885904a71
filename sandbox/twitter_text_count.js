// The service's count of texts by its published text library: one JSON string a line in, its
// weighted length a line out. The library's folder is the first argument.
const twitterText = require(process.argv[2]);
const lines = require('readline').createInterface({input: process.stdin});
lines.on('line', (line) => {
    const text = JSON.parse(line);
    process.stdout.write(twitterText.parseTweet(text).weightedLength + '\n');
});
