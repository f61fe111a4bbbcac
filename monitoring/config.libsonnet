// What a site-automation team may change: the selector of the scrape jobs that
// carry lbxctl's metrics, the label that names a site (set in the scrape
// configuration, never by lbxctl), and how long each condition must last.
{
  _config+:: {
    // node_exporter's textfile collector serves the metrics.
    lbxSelector: 'job="node"',
    // The label that tells sites apart, from the scrape target.
    siteLabel: 'site',
    // A check writes its metrics every minute (lbxctl-check.timer).
    checkStaleSeconds: 300,
    // How long each condition lasts before its alert fires.
    converterDownFor: '5m',
    convertersMissingFor: '5m',
    noConverterAnswersFor: '5m',
    checkNotSucceedingFor: '2m',
    settingsDriftedFor: '15m',
    versionSkewFor: '1h',
    grafanaDashboardUid: 'lbxconfig-sites',
  },
}
