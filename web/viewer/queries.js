// The service's JSON queries: one POST each, its answer parsed, and every way
// it can fail told as a QueryError the page can show.
import { byteString, byteText, display } from "./names.js";

// The service does not answer URIs it does not know; without a limit the page
// would wait for ever.
const QUERY_TIMEOUT_MS = 60000;

export class QueryError extends Error {}

// Posts `request` to `uri` and returns the answer when its "result" is 200.
// Names in the answer stay byte strings (see names.js).
export async function query(uri, request) {
  let reply;
  try {
    reply = await fetch(uri, {
      method: "POST",
      body: byteString(JSON.stringify(request)),
      signal: AbortSignal.timeout(QUERY_TIMEOUT_MS),
    });
  } catch (err) {
    const why = err.name === "TimeoutError" ? `no answer within ${QUERY_TIMEOUT_MS / 1000} s`
                                            : err.message;
    throw new QueryError(`The service did not answer ${uri} (${why}).`);
  }
  if (!reply.ok) throw new QueryError(`${uri} answered HTTP ${reply.status}.`);
  let answer;
  try {
    answer = JSON.parse(byteText(await reply.arrayBuffer()));
  } catch (err) {
    throw new QueryError(`${uri} answered something that is not JSON (${err.message}).`);
  }
  if (answer.result !== 200) {
    const why = answer.errorinfo ? display(answer.errorinfo) : "no reason given";
    throw new QueryError(`${uri} answered result ${answer.result}: ${why}`);
  }
  return answer;
}

// The station names.
export async function stationList() {
  return (await query("/getStationList", {})).stationList || [];
}

// The names of the records of `station`.
export async function recordList(station) {
  return (await query("/getFileName_list", { groupName: station })).fileName_list || [];
}

// The "/getRecordInfo" record of `record` of `station`.
export async function recordInfo(station, record) {
  return (await query("/getRecordInfo", { groupName: station, fileName: record })).record;
}

// The "/getWaveform" answer for `channels` over `window` in about `points`
// buckets.
export function waveform(station, record, channels, window, points) {
  return query("/getWaveform", {
    groupName: station, fileName: record, channelList: channels,
    from: window.from, to: window.to, points,
  });
}
